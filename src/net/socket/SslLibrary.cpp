// Loading OpenSSL on first use: dlopen of the libssl this program was
// built against, and its functions by name.
#define CLIPHARBOR_SSL_LOADER
#include "net/socket/SslLibrary.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "net/socket/WSocketLibrary.h"

namespace {

// The table, or why it could not be filled.
struct TLoaded {
  TSslLibrary Api;
  std::string Error;
};

TLoaded Load() {
  TLoaded l;
  const std::string soname = "libssl.so." + std::to_string(OPENSSL_VERSION_MAJOR);
  // Never unloaded: contexts and the BIO method live as long as the process.
  void* handle = ::dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    l.Error = "TLS is not available: " + std::string(why ? why : soname);
    return l;
  }
  // Looked up through libssl's handle, which also finds libcrypto's.
#define CLIPHARBOR_SSL_LOOKUP(name)                                           \
  l.Api.name = reinterpret_cast<decltype(l.Api.name)>(::dlsym(handle, #name)); \
  if (!l.Api.name && l.Error.empty()) l.Error = "TLS is not available: " + soname + " lacks " #name;
  CLIPHARBOR_SSL_FUNCTIONS(CLIPHARBOR_SSL_LOOKUP)
#undef CLIPHARBOR_SSL_LOOKUP
  return l;
}

}  // namespace

const TSslLibrary& SslLibrary() {
  static std::once_flag once;
  static TLoaded loaded;
  std::call_once(once, [] { loaded = Load(); });
  if (!loaded.Error.empty()) throw ESocketException(loaded.Error);
  return loaded.Api;
}
