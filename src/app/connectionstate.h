#pragma once
#include <chrono>

// The state of the one connection as the engineer sees it: the supervisor keeps it (one
// state machine for the whole connection, not for one transaction) and the windows draw
// it (the main window's indicator, live values greyed while the drive does not answer).
enum class TConnectionState {
  Offline,        // no connection, or the port is closed
  Identifying,    // on line, the drive has not yet told who it is
  Connected,      // identified and answering
  NotResponding,  // identified before, silent now (or the port has gone)
};

struct TConnectionStatus {
  TConnectionState State = TConnectionState::Offline;
  // When the present state began (wall clock, for "not responding since hh:mm:ss").
  std::chrono::system_clock::time_point Since{};
};
