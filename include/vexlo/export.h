/* Symbol export for the vexlo plug-in library. Everything that is not marked
 * with VX_API stays hidden, so the shared object exports exactly the
 * functions a consumer may resolve.
 *
 * On Windows the DLL's own build exports (VX_BUILDING_LIBRARY) and its
 * consumers import; a program that links the library statically defines
 * VX_STATIC, so that the functions are neither imported nor exported. */
#ifndef VEXLO_EXPORT_H
#define VEXLO_EXPORT_H

#if defined(_WIN32)
#if defined(VX_STATIC)
#define VX_API
#elif defined(VX_BUILDING_LIBRARY)
#define VX_API __declspec(dllexport)
#else
#define VX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VX_API __attribute__((visibility("default")))
#else
#define VX_API
#endif

#if defined(__GNUC__)
#define VX_PRINTF_LIKE(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VX_PRINTF_LIKE(fmt_index, first_arg)
#endif

#endif
