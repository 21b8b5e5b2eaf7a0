#pragma once

#include <string>

namespace quaylet {

// A library opened with dlopen the first time it is needed rather than mapped with the
// program, for one whose pages and start-up work a program idling in the tray should not
// carry. It stays loaded until the process ends.
class SharedLibrary {
  public:
    // Opens fileName; name is how errors call the library, and requirement completes the
    // error for a missing function ("libcurl 7.84 or later"). Throws std::runtime_error when
    // the library cannot be loaded.
    SharedLibrary(const char* fileName, std::string name, std::string requirement);

    // Sets function to the library's function of that name; throws std::runtime_error when
    // it has none.
    template <typename Function>
    void find(Function& function, const char* symbolName) const {
        function = reinterpret_cast<Function>(symbol(symbolName));
    }

  private:
    void* symbol(const char* symbolName) const;

    void* handle_;
    std::string name_;
    std::string requirement_;
};

}  // namespace quaylet
