/* Symbol export for the vexlo plug-in library. Everything that is not marked
 * with VX_API stays hidden, so the shared object exports exactly the
 * functions a consumer may resolve. */
#ifndef VEXLO_EXPORT_H
#define VEXLO_EXPORT_H

#if defined(_WIN32)
#if defined(VX_BUILDING_LIBRARY)
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
