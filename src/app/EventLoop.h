#pragma once

// Chooses Qt's own event dispatcher over GLib's before the application object
// exists. A file sent at interval 0 ticks once per pass of the event loop, and
// GLib's passes cost about three times as much; the file dialog is Qt's own,
// so nothing the program shows needs GLib's loop.
void useQtEventDispatcher();
