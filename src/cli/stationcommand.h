#pragma once

#include <QElapsedTimer>

struct CliArgs;

// `station IMAGE`: until SIGINT, flashes each board once when it appears on a watched port (every
// port when none is given), and again when it has gone and come back. Returns the exit status:
// 11 when a row of the report was lost, else 10 when a run failed, else 0. A run cut short by the
// closing signal is counted apart, as interrupted; 3 when the image is refused, 2 when two ports
// given are one device.
int runStation(const CliArgs &args, const QElapsedTimer &sinceStart);
