// Loaded before the C library (LD_PRELOAD), the user database cannot be listed, as where a
// directory service does not enumerate its users: looking one up still works.

#include <cerrno>
#include <cstddef>
#include <pwd.h>

extern "C" {

void setpwent() {}
void endpwent() {}
passwd* getpwent() { return nullptr; }
int getpwent_r(passwd*, char*, std::size_t, passwd** result) {
    *result = nullptr;
    return ENOENT;
}

}  // extern "C"
