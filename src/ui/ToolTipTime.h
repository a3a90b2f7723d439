#pragma once
// How long tool tips stay up, for the whole application: the setup dialog's long hints need
// longer than Qt's default, which depends on the text's length.

namespace morvane {

// Every tool tip shown from now on stays up showMs milliseconds. Installing again only changes
// the time.
void InstallToolTipTime(int showMs);

}  // namespace morvane
