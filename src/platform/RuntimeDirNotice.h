#pragma once

namespace quillora::platform {

// Sessions started without a login manager (su, ssh without a session, a bare X server) set no
// XDG_RUNTIME_DIR, and Qt then prints a notice about its fallback folder on every start. Nothing
// the user can act on, and nothing of ours uses that folder: call this before the application
// object is made, and that one notice is dropped while every other message passes.
void silenceRuntimeDirNotice();

} // namespace quillora::platform
