#pragma once

struct CliArgs;

// `convert IN OUT.bin`: writes the flat image a firmware file stands for, as flash would send
// it. The output appears whole or not at all. Returns the exit status.
int runConvert(const CliArgs &args);
