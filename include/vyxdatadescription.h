// The 128-byte record that describes every data block exchanged with the
// host, with its image and generic sub-headers and the data-type codes.
#ifndef VYXDATADESCRIPTION_H
#define VYXDATADESCRIPTION_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Raw camera frames: image blocks with 68-byte (50003) or 412-byte (50004)
 * headers, big-endian floats as received from the camera. */
#define VYX_TYPE_50003 0x50003u
#define VYX_TYPE_50004 0x50004u
/* Float images in host byte order, one camera image type each. */
#define VYX_TYPE_10001 0x10001u
#define VYX_TYPE_10002 0x10002u
#define VYX_TYPE_10004 0x10004u
#define VYX_TYPE_10020 0x10020u
#define VYX_TYPE_10040 0x10040u
#define VYX_TYPE_10080 0x10080u

/* subHeaderType value: the union holds a VYXImageData. */
#define VYX_SUBHEADER_IMAGE 2u

typedef struct VYXGenericData {
  uint32_t subType;
  uint32_t numElem;
  uint32_t sizeOfElem;
} VYXGenericData;

typedef struct VYXImageData {
  uint32_t subType;
  uint32_t numColumns;
  uint32_t numRows;
  uint32_t numSubImages;
  int32_t integrationTime[4];
  int32_t modulationFrequency[4];
  int32_t offset[4];
  int32_t pixelAspectRatio;
  int32_t pixelOrigin;
  int32_t timeStampHi;
  uint32_t timeStampLo;
  char reserved[24];
  uint32_t userData0;
} VYXImageData;

typedef struct VYXDataDescription {
  uint32_t PID;
  uint32_t DID;
  uint32_t type;
  uint32_t size;
  uint32_t subHeaderType;
  union {
    VYXGenericData gen;
    VYXImageData std;
    char fillUpToSizeOfStructure[108];
  };
} VYXDataDescription;

typedef VYXDataDescription DataDescription;

#ifdef __cplusplus
} /* extern "C" */

#include <cstddef>

// The layout is part of the host interface: any change must fail to build.
static_assert(sizeof(VYXDataDescription) == 128, "description is 128 bytes");
static_assert(sizeof(VYXImageData) == 108, "image sub-header is 108 bytes");
static_assert(sizeof(VYXGenericData) == 12, "generic sub-header is 12 bytes");
static_assert(offsetof(VYXDataDescription, PID) == 0, "PID");
static_assert(offsetof(VYXDataDescription, DID) == 4, "DID");
static_assert(offsetof(VYXDataDescription, type) == 8, "type");
static_assert(offsetof(VYXDataDescription, size) == 12, "size");
static_assert(offsetof(VYXDataDescription, subHeaderType) == 16, "subHeaderType");
static_assert(offsetof(VYXDataDescription, std) == 20, "std");
static_assert(offsetof(VYXDataDescription, gen) == 20, "gen");
static_assert(offsetof(VYXImageData, subType) == 0, "subType");
static_assert(offsetof(VYXImageData, numColumns) == 4, "numColumns");
static_assert(offsetof(VYXImageData, numRows) == 8, "numRows");
static_assert(offsetof(VYXImageData, numSubImages) == 12, "numSubImages");
static_assert(offsetof(VYXImageData, integrationTime) == 16, "integrationTime");
static_assert(offsetof(VYXImageData, modulationFrequency) == 32, "modulationFrequency");
static_assert(offsetof(VYXImageData, offset) == 48, "offset");
static_assert(offsetof(VYXImageData, pixelAspectRatio) == 64, "pixelAspectRatio");
static_assert(offsetof(VYXImageData, pixelOrigin) == 68, "pixelOrigin");
static_assert(offsetof(VYXImageData, timeStampHi) == 72, "timeStampHi");
static_assert(offsetof(VYXImageData, timeStampLo) == 76, "timeStampLo");
static_assert(offsetof(VYXImageData, reserved) == 80, "reserved");
static_assert(offsetof(VYXImageData, userData0) == 104, "userData0");
static_assert(offsetof(VYXGenericData, numElem) == 4, "numElem");
static_assert(offsetof(VYXGenericData, sizeOfElem) == 8, "sizeOfElem");
#endif

#endif
