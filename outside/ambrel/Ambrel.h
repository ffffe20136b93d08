#pragma once
// The transfer-request library of the editing system's transfer service, as the browser calls it (C names,
// loaded by name). A handle of 0 means that no transfer exists; the error code is written in both cases:
//   1 the target host is not known, 2 the service could not be started, 3 the request was refused.
// Status words: 0 or more running, 0x80010000 no status this time, 0x80000002 complete, 0x80000003 cancelled,
// 0x80000004 failed; progress in percent.
//
// Two backends, chosen by the environment at each request:
//   AMBREL_BACKEND=script  the transfer follows the script file named by AMBREL_SCRIPT (see CAmbrelScript.h);
//   otherwise              the service runs as a child process: AMBREL_TESSAN (default "tessan") with
//                          "ingest <job> --out <folder>", under AMBREL_OUT (default a temp folder); the hosts it
//                          knows are AMBREL_HOSTS (separated by ';' or ',', default "Mirel").
//                          The receiver plug-in it loads is AMBREL_RECEIVER (a library path), else libRecalo.so
//                          beside the program, else in KORVO_LIBRARY_DIR; without one the request is refused (2).
//                          Each request takes the next free number n: job-n.xml and ingest-n/ are created anew.
// With AMBREL_JOURNAL set, every call is appended to that file as one line.
// TransferStatusText, an addition of this stand-in that callers look up optionally, tells how a transfer went in
// words (handle 0: why the last request got no transfer); it returns the text's length and copies what fits.
#include <cstdint>

extern "C" {
__attribute__((visibility("default"))) uint32_t RequestTransferXML(const char* jobXml, const char* targetHost,
                                                                   int32_t mxfAaf, int32_t* error);
__attribute__((visibility("default"))) int32_t TransferStatus(uint32_t handle, double* progress);
__attribute__((visibility("default"))) int32_t CancelTransfer(uint32_t handle);
__attribute__((visibility("default"))) int32_t ReleaseHandle(uint32_t handle);
__attribute__((visibility("default"))) int32_t TransferStatusText(uint32_t handle, char* text, int32_t size);
}
