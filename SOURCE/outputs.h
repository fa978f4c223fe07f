// The run's output files (deck, side file, dependency file) written so that no reader ever sees
// a partial one under its final name: each is written to a temporary file in its target
// directory and renamed into place when the run completes. An abnormal end or a terminating
// signal removes the temporary files and leaves earlier outputs as they were. Outputs that are
// not regular files (devices, FIFOs, /dev/stdout) are written directly.
#pragma once

#include "records.h"

#include <sys/types.h>

namespace incprep {

/// One output of the run.
struct t_outputFile {
  std::string finalName;   // the name the user gave or the run derived
  std::string targetName;  // the file replaced: finalName, or the file a symbolic link names
  std::string tempName;    // the temporary file; "" when written directly
  std::FILE *fp = nullptr; // open while the run writes it
  int slot = -1;           // its place in the list the signal handlers clean up
};

/// Catches SIGINT, SIGTERM and SIGHUP: the handler removes the temporary files of the run and
/// ends the process by the same signal.
void installOutputSignalHandlers();

/// Opens `out` for writing, with the trace texts of opening a file: a temporary file beside
/// the file it replaces, or the output itself when it exists and is not a regular file. On
/// failure returns false with errno set; a directory fails with EISDIR.
[[nodiscard]] bool openOutputFile(t_outputFile &out, int32 loglvl);

/// Puts a written temporary file in place of its output, keeping the mode of the file it
/// replaces (a new file gets the usual mode for new files). False with errno set on failure;
/// the temporary file is removed then.
[[nodiscard]] bool commitOutputFile(t_outputFile &out);

/// Removes the temporary file of `out`, if any (its stream must be closed).
void discardOutputFile(t_outputFile &out);

/// Removes every temporary file still registered (abnormal termination).
void discardAllOutputFiles();

/// Sets the modification time of the committed outputs to now. Called after the last rename,
/// so an output is never older than a directory it was renamed into.
void touchOutputs(const std::vector<const t_outputFile *> &outputs);

/// The device and inode of a regular file, when `name` is one.
struct t_fileId {
  dev_t dev = 0;
  ino_t ino = 0;
};
[[nodiscard]] bool regularFileId(const std::string &name, t_fileId &id);

} // namespace incprep
