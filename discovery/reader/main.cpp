// kelvara-xls-reader: reads an .xls file for Kelvara's list import in a
// confined process of its own (discovery/core/xls_reader_child.h).
#include "discovery/core/xls_reader_child.h"

int main(int argc, char** argv) { return kelvara::discovery::XlsReaderMain(argc, argv); }
