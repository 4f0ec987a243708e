// The headless demo: a walk through the portal window as a viewer would
// take it, ending on time whatever the capture holds, and the screenshot.
#pragma once

// Opens the portal window through the menu entry, presses ">>" through every
// portal back to the first and then an entry, logging what the buttons
// show; plays on until --headless SECONDS are up, writes the screenshot and
// calls On_Exit. Returns the exit status.
int Run_Headless();
