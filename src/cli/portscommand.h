#pragma once

// The ports command: COM1 to COM16 as the window sees them and the findings, as a table or as
// one JSON object on standard output. Returns the exit status.
int runPorts(bool json);
