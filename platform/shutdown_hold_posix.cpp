// Linux: nothing is held yet; the download goes on as before.
#include "platform/shutdown_hold.h"

struct ShutdownHold::Impl {};

ShutdownHold::ShutdownHold(const std::string&) : impl_(new Impl) {}
ShutdownHold::~ShutdownHold() = default;
bool ShutdownHold::held() const { return false; }
