#include "app/state.h"

// There are no windows in the portable build: nothing is ever alive, nothing is posted, and no
// logo bitmap is ever created.
namespace {

bool NoWindowAlive(WindowHandle) {
    return false;
}
void NoPost(WindowHandle, uint32_t) {}

}  // namespace

WindowAliveFn g_windowAlive = &NoWindowAlive;
PostMessageFn g_postWindowMessage = &NoPost;

void LogoDeleter::operator()(void*) const {}
