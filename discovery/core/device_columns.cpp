#include "discovery/core/device_columns.h"

#include "common/language_table.h"

namespace kelvara::discovery {
namespace {

constexpr std::array<ColumnInfo, kColumnCount> kColumns = {{
    {LangKey("IP"), true, 120},
    {LangKey("HTTP_PORT"), true, 60},
    {LangKey("MODEL"), true, 120},
    {LangKey("STRING_EXTNUMBER"), true, 120},
    {LangKey("STRING_MAINNUMBER"), true, 120},
    {LangKey("STRING_EXTNAME"), true, 120},
    {LangKey("STRING_ADDRESSBOXIP"), true, 120},
    {LangKey("STRING_NOTES"), true, 120},
    {LangKey("STRING_MANAGECENTER"), true, 120},
    {LangKey("TEXT9"), true, 100},
    {LangKey("PREVIEW"), true, 60},
    {LangKey("VERSIONNUMBER"), true, 280},
    {LangKey("AFVERSIONNUMBER"), true, 50},
    {LangKey("MODULE4GVERSIONNUMBER"), true, 50},
    {LangKey("STATE"), true, 300},
    {LangKey("IDS_STR_ONVIF_ALLNET"), true, 80},
    {LangKey("SN"), true, 130},
    {LangKey("NETMASK"), true, 120},
    {LangKey("MAC"), true, 130},
    {LangKey("ID_SDCARD"), true, 60},
    {LangKey("P2PTYPE"), true, 80},
    {LangKey("P2PID"), true, 100},
    {LangKey("RUNNINGTIME"), true, 100},
    {LangKey("NETCARD"), true, 60},
    {LangKey("IDS_STR_CLOUDGROP_TIP"), true, 100},
    {"UUID", false, 50},
    {"OEM SN", false, 130},
}};

}  // namespace

const ColumnInfo& GetColumnInfo(int id) {
  return kColumns.at(static_cast<std::size_t>(id));
}

void ColumnMap::BuildColumnMap(const ColumnSwitches& sw) {
  positions_.fill(-1);
  shown_ = 0;
  auto add = [&](int id) { positions_[static_cast<std::size_t>(id)] = shown_++; };
  add(kColIp);
  add(kColHttpPort);
  if (!sw.listShowLess) add(kColModel);
  add(kColTitle);
  if (sw.style == 1) add(kColPreview);
  for (int id = kColVersion; id <= kColSdCard; ++id) add(id);
  if (!sw.listShowLess) {
    add(kColP2pType);
    add(kColP2pId);
  }
  add(kColUptime);
  if (!sw.listShowLess) {
    add(kColNetcard);
    add(kColCloudStatus);
  }
  add(kColUuid);
  if (!sw.listShowLess) add(kColOemSerial);
}

std::string ColumnMap::ColumnSpec(const std::function<std::string(const char* key)>& lookup) const {
  std::string spec;
  for (int id = 0; id < kColumnCount; ++id) {
    if (GetColumnIndex(id) < 0) continue;
    const ColumnInfo& c = kColumns[static_cast<std::size_t>(id)];
    spec += (c.titleIsKey && lookup) ? lookup(c.title) : std::string(c.title);
    spec += "," + std::to_string(c.width_px) + ";";
  }
  return spec;
}

}  // namespace kelvara::discovery
