#pragma once

#include <QElapsedTimer>

struct CliArgs;

// `station IMAGE`: until SIGINT, flashes each board once when it appears on a watched port,
// and again when it has gone and come back. Returns the exit status: 0 when at least one board
// was flashed and none failed, 10 otherwise.
int runStation(const CliArgs &args, const QElapsedTimer &sinceStart);
