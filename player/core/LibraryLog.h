#pragma once

// Messages of the play library (its Qt log categories "lumarel.*", such as
// the sound server's warning that sound is silent) go to the player's log
// as well as to standard error.
namespace LibraryLog {

// Once, at start-up, on the GUI thread.
void install();

} // namespace LibraryLog
