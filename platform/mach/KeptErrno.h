#pragma once
// Puts errno back as it was when the scope ends: the stand-in's calls run inside signal handlers,
// whose interrupted code must find errno untouched.
#include <cerrno>

class KeptErrno {
  public:
    KeptErrno() : saved_(errno) {}
    ~KeptErrno() { errno = saved_; }
    KeptErrno(const KeptErrno&) = delete;
    KeptErrno& operator=(const KeptErrno&) = delete;

  private:
    int saved_;
};
