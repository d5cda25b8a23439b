#pragma once

// The application's identity for the desktop and its fonts, set once before any window. No
// display name is set: Qt would append it to every window title under X11, and the notice
// boxes must carry exactly "提示信息!".
void prepareApplication();
