// The demo host's main window: the channel line, the log list, the menu bar
// with the plug-in's own menu and the capture's channels, and the window
// procedure that takes the viewer's menu choices, the hot key and the
// plug-in's commands.
#pragma once

// Makes the main window over the stand-in host's one and shows it; without
// a display the demo ends with one line on stderr.
void Make_Main_Window();
