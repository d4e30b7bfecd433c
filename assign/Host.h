#pragma once

#include "HttpCheck.h"
#include "Link.h"
#include "Options.h"
#include "Twin.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// What torvane-assign does differently on Linux and on Windows: who holds the card port, how
// the loop waits, how a stop request arrives, and the console. One file per system.
namespace assign {

/// Takes the card port: on Linux by starting torvane-helper, on Windows in this process. On
/// failure returns nullptr with the operator's sentence in why.
std::unique_ptr<helper::Link> startLink(const Options& options, text::Twin& why);

/// Waits until the link has a request, one of the checks can go on, or timeout has passed.
void waitFor(const helper::Link& link, const std::vector<const HttpCheck*>& checks,
             std::chrono::milliseconds timeout);

/// Makes Ctrl-C (SIGINT, SIGTERM; on Windows also Ctrl-Break and closing the console) set
/// g_stopSignal, so that the loop ends the run and keeps the record.
void catchStopSignals();
/// How the operator asked to stop, for the report ("SIGINT", "Ctrl-C").
const char* stopName(int signal);

/// The command line as UTF-8 and the console set up for UTF-8 output.
std::vector<std::string> programArguments(int argc, char** argv);
/// Whether standard output is a console that can show the status line.
bool outputIsTerminal();
/// The language of the operator's desktop.
text::Lang desktopLanguage();
/// Whether something may exist at path: false only when the system says there is nothing (a
/// record that is not there yet is a new one); any other failure is left to reading it.
bool pathExists(const std::string& path);

} // namespace assign
