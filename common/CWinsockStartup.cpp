#include "common/CWinsockStartup.h"

CWinsockStartup::CWinsockStartup() : _bStarted(true) {}

CWinsockStartup theWinsockStartup;
