#pragma once
// What TinyXML built, counted without recursion: the figures the guard's
// pre-scan must match for a text TinyXML parses without error.
#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace kelvara::testing {

struct BuiltShape {
  std::size_t depth = 0, elements = 0, attributes = 0, most_attributes = 0;
};

inline BuiltShape MeasureTree(const TiXmlNode& root) {
  BuiltShape s;
  std::vector<std::pair<const TiXmlNode*, std::size_t>> todo;
  for (const TiXmlNode* c = root.FirstChild(); c; c = c->NextSibling()) todo.emplace_back(c, 1);
  while (!todo.empty()) {
    const auto [node, depth] = todo.back();
    todo.pop_back();
    const TiXmlElement* e = node->ToElement();
    if (e == nullptr) continue;
    ++s.elements;
    s.depth = std::max(s.depth, depth);
    std::size_t here = 0;
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) ++here;
    s.attributes += here;
    s.most_attributes = std::max(s.most_attributes, here);
    for (const TiXmlNode* c = e->FirstChild(); c; c = c->NextSibling()) todo.emplace_back(c, depth + 1);
  }
  return s;
}

}  // namespace kelvara::testing
