#pragma once
// The type library XML (server/typelib/TarvoSrv.xml), compiled in so that REGSERVER installs the
// very interfaces this program serves.
namespace tarvo {
extern const char* const kTypeLibXml;
}
