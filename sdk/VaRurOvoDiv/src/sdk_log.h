#pragma once
// The SDK's own diagnostics: written to stderr only while the environment
// variable VARUROVODIV_LOG is set (to anything but "0"). The SDK is a product of
// its own and does not share the program's logger.
namespace varurovodiv {

void SdkLogRefresh();  // reads the environment again (at Init)
void SdkLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varurovodiv
