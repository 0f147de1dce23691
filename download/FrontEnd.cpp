#include "FrontEnd.h"

#include "SerialLink.h"

void BaudRequest::Serve(const std::function<void()>& keepAlive) const { ServeBaudRequest(link_, keepAlive); }
