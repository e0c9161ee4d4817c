/* Record helpers of the device SDK: XML blocks <-> fixed-layout records. */
#ifndef VARUROVODIV_ZQ_NETSDK_RECORDS_H
#define VARUROVODIV_ZQ_NETSDK_RECORDS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Gives back a text returned by an XMLGET builder (null is allowed). */
ZQ_NETSDK_API void ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(char* text);

#ifdef __cplusplus
}
#endif

#endif
