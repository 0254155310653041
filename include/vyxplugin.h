// Prototypes of the entry points a plug-in object exports to the host, and
// matching function-pointer types for hosts that resolve them at run time.
#ifndef VYXPLUGIN_H
#define VYXPLUGIN_H

#include <stddef.h>

#include "vyxdatadescription.h"
#include "vyxsdk2common.h"

#ifndef VYXP_API
#define VYXP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* common */
VYXP_API unsigned int vyxpInterfaceVersion(void);
VYXP_API int vyxpGetLastError(unsigned int id, char* msg, size_t maxLen);
VYXP_API int vyxpDeinitPlugin(unsigned int id);
/* source */
VYXP_API int vyxpInitRawDataPlugin(unsigned int id, const char* param);
VYXP_API int vyxpUpdate(unsigned int id);
VYXP_API int vyxpGetRawDataSize(unsigned int id, size_t* result);
VYXP_API int vyxpGetRawData(unsigned int id, void* result);
VYXP_API int vyxpGetRawDataDescription(unsigned int id, VYXDataDescription* result);
VYXP_API int vyxpGetIntegrationTime(unsigned int id, unsigned int* result, unsigned int idx);
VYXP_API int vyxpSetIntegrationTime(unsigned int id, unsigned int idx, unsigned int val);
VYXP_API int vyxpGetValidIntegrationTime(unsigned int id, unsigned int* result, unsigned int index,
                                         Proximity proximity, unsigned int us);
VYXP_API int vyxpGetModulationFrequency(unsigned int id, unsigned int* result, unsigned int idx);
VYXP_API int vyxpSetModulationFrequency(unsigned int id, unsigned int idx, unsigned int val);
VYXP_API int vyxpGetValidModulationFrequency(unsigned int id, unsigned int* result,
                                             unsigned int index, Proximity proximity,
                                             unsigned int hz);
VYXP_API int vyxpPlatformCommand(unsigned int id, char* result, size_t maxLen, const char* cmd);
VYXP_API int vyxpGetInfo(unsigned int id, char* result, size_t maxLen, const char* key);
/* processing */
VYXP_API int vyxpInitProcessingPlugin(unsigned int handle, const char* param);
VYXP_API int vyxpConfigureProcess(unsigned int id, char* result, size_t maxLen, const char* cmd);
VYXP_API int vyxpCanProcess(unsigned int id, int* result, unsigned int type, unsigned int numFmt,
                            DataDescription* fmt);
VYXP_API int vyxpProcess(unsigned int id, unsigned int numOut, DataDescription* fmtOut,
                         void** output, unsigned int numIn, DataDescription* fmtIn, void** input);

#ifdef __cplusplus
}
#endif

#endif
