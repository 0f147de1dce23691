#include "JobContext.h"

#include "SerialPort.h"

TDownloadJobContext::TDownloadJobContext() = default;
TDownloadJobContext::~TDownloadJobContext() = default;
