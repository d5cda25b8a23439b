#pragma once

// The command line's exit status. Scripts rely on these numbers: they never change meaning.
// Success is only ever reported when the board sent its completion reply.
namespace ExitCode
{
constexpr int Success = 0;           // the board sent the completion reply D1 D2 D3 2D 1D
constexpr int Failure = 1;           // an unexpected failure of the program itself
constexpr int Usage = 2;             // the command line itself is wrong
constexpr int ImageRefused = 3;      // the image file cannot be downloaded
constexpr int PortUnavailable = 4;   // the port is missing, busy or not permitted
constexpr int NoAnswer = 5;          // the board never answered the download request
constexpr int ConnectionFailed = 6;  // no reply to the length frame
constexpr int DownloadFailed = 7;    // a block went unanswered
constexpr int NoCompletion = 8;      // every block taken, but no completion reply
constexpr int PortVanished = 9;      // the device went away during the run
constexpr int SomeBoardsFailed = 10; // several boards: not every one confirmed its download
constexpr int HungUp = 129;          // SIGHUP (128 + 1): the terminal that started it closed
constexpr int Interrupted = 130;     // SIGINT (128 + 2)
constexpr int Terminated = 143;      // SIGTERM (128 + 15)
} // namespace ExitCode
