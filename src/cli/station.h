#pragma once

#include <QElapsedTimer>

struct CliArgs;

// `station IMAGE`: until SIGINT, flashes each board once when it appears on a watched port,
// and again when it has gone and come back. Returns the exit status: 0 when at least one board
// was flashed and no run failed or was cut short by the closing signal, 10 otherwise, and above
// both 11 when a row of the report was lost. A run cut short is counted apart, as interrupted.
int runStation(const CliArgs &args, const QElapsedTimer &sinceStart);
