// Result codes, the proximity enumeration and the interface version that the
// host SDK and its plug-ins share. Kept bit for bit as the host defines them.
#ifndef VYXSDK2COMMON_H
#define VYXSDK2COMMON_H

#ifdef __cplusplus
extern "C" {
#endif

#define VYX_OK 0
#define VYX_RUNTIME_ERROR 1026    /* 0x402 */
#define VYX_INVALID_VALUE 1027    /* 0x403 */
#define VYX_INVALID_HANDLE 2049   /* 0x801 */
#define VYX_NOT_SUPPORTED 2050    /* 0x802 */
#define VYX_BUFFER_TOO_SMALL 2051 /* 0x803 */
#define VYX_COULD_NOT_OPEN 4098   /* 0x1002 */
#define VYX_NOT_AVAILABLE 4099    /* 0x1003 */

/* The plug-in interface version this object implements. */
#define VYX_INTERFACE_VERSION 66049u /* 0x00010201 */

/* How a requested value is matched to a valid one. A 32-bit value; in C++ it
 * is given a fixed underlying type so that any value a host passes is a
 * valid value of the type. */
#ifdef __cplusplus
enum Proximity : int { AtLeast = 0, AtMost = 1, CloseTo = 2 };
#else
typedef enum Proximity { AtLeast = 0, AtMost = 1, CloseTo = 2 } Proximity;
#endif

#ifdef __cplusplus
}
#endif

#endif
