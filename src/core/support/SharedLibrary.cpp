#include "core/support/SharedLibrary.h"

#include <dlfcn.h>

#include <stdexcept>
#include <utility>

namespace quaylet {

SharedLibrary::SharedLibrary(const char* fileName, std::string name, std::string requirement)
    : handle_(::dlopen(fileName, RTLD_NOW | RTLD_LOCAL)),
      name_(std::move(name)),
      requirement_(std::move(requirement)) {
    if (handle_ == nullptr) {
        const char* reason = ::dlerror();
        throw std::runtime_error(
            name_ + " could not be loaded: " + (reason != nullptr ? reason : fileName));
    }
}

void* SharedLibrary::symbol(const char* symbolName) const {
    void* address = ::dlsym(handle_, symbolName);
    if (address == nullptr) {
        throw std::runtime_error(name_ + " has no " + symbolName + "; Quaylet needs " +
                                 requirement_ + ".");
    }
    return address;
}

}  // namespace quaylet
