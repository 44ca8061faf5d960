// Burning and erasing are not built yet: every call fails with
// ERROR_NOT_SUPPORTED and does nothing, so callers can link and report the
// failure rather than believe a disc was written.
#include "engine/Engine.h"
#include "port/Errors.h"

namespace {
int NotBuilt() { return static_cast<int>(port::ERROR_NOT_SUPPORTED); }
} // namespace

namespace engine {

int BurnDialog(int, int, int, const char16_t*, const char16_t*) { return NotBuilt(); }
int EraseDialog(const char16_t*) { return NotBuilt(); }

} // namespace engine
