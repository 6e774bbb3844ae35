// One launcher at a time. Two runs at once would stage into and clean up the same
// folder under %TEMP%, so a second launcher brings the first one's window to the
// front and ends without doing anything.
#pragma once

// True when this is the only launcher running in the session; the claim lasts
// until the process ends. False after bringing the running launcher's window
// (if it shows one) to the front.
bool claimSingleInstance();
