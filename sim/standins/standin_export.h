// The entry points of our stand-ins for the station's outside libraries: plain C
// names, visible from outside; everything else in these libraries stays hidden.
#pragma once

#if defined(_WIN32)
#  define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#  define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
