#pragma once
// The dynamic loader's view of the own process: the images it has loaded, and notifications when
// images come and go. On Linux the images are the ELF objects the loader mapped (header = the ELF
// header in memory, slide = the load bias, the main program named by /proc/self/exe); tests may add
// Mach-O images of their own (platform/dyld/testing/DyldTesting.h).
//
// Loads and unloads are seen when they go through `dyld_dlopen`/`dyld_dlclose` (or `dlopen`/`dlclose`
// followed by one of them): the Linux loader tells nobody, so a library loaded behind the stand-in's
// back is not reported until the next load or unload through it.
//
// Ordinary code only. Callbacks run one at a time, in the order of the events, on the thread that
// caused the event; a callback may ask the image list but must not load, unload or register.
#include <dlfcn.h>

#include <cstdint>

using dyld_image_callback = void (*)(const void* header, intptr_t vmaddr_slide);

// Calls `callback` at once for every image loaded now, and later for every image added.
void _dyld_register_func_for_add_image(dyld_image_callback callback);
// Calls `callback` for every image removed from now on.
void _dyld_register_func_for_remove_image(dyld_image_callback callback);

// The images loaded now, in load order. An index past the end answers null or 0. Names stay valid
// for the life of the process.
uint32_t _dyld_image_count();
const void* _dyld_get_image_header(uint32_t index);
const char* _dyld_get_image_name(uint32_t index);
intptr_t _dyld_get_image_vmaddr_slide(uint32_t index);

// Fills `info->dli_fname` and `info->dli_fbase` for the image whose header is at `header`; the
// symbol fields stay null. Answers 0 when no loaded image starts there. (The system's own dladdr
// finds neither images added for tests nor the main program's path.)
int dyld_dladdr(const void* header, Dl_info* info);

// dlopen/dlclose that report the images they load or unload to the registered callbacks.
void* dyld_dlopen(const char* path, int mode);
int dyld_dlclose(void* handle);
