#include "cli/options.h"

namespace hj5::cli {

const char* HelpText() {
  return R"(Usage: hj5-update [options] FILE.xml
       hj5-update --check [options] [FILE.xml]

Puts FILE.xml onto HJ-5 devices and runs their update, step for step and
text for text as the form does: identity check, FTP on, update mark,
restart, upload to C:\www\, FTP off, device code restored, restart.

One device:
  --address HOST[:PORT]  the device; PORT is its HTTP port (80); an IPv6
                         address goes in brackets: [fd00::5]:8080
  --http-port N          the HTTP port when --address gives none (80)
  --ftp-port N           the device's FTP port (21)
  --id ID                the login ID
  --password-file FILE   the password: the file's text, one trailing
                         newline dropped; else the environment variable
                         HJ5_PASSWORD; else a prompt without echo when
                         standard input is a terminal. Never an argument.

Many devices:
  --devices FILE         a CSV file with a header line: address (required),
                         login_id, password, http_port, ftp_port (optional,
                         else the options above). A device listed twice is
                         refused. A file that group or others may read is
                         warned about.
  --jobs N               devices updated at a time (16); fewer when the
                         descriptor limit cannot carry N

Other:
  --check                only the identity check on each device; nothing
                         is changed on it
  --json                 one JSON object a line for each event (device,
                         time, kind, text, cause), then a summary object
  --help                 this text
  --version              the version of hj5-update

Before any traffic the form's checks run: the XML check and the file name,
the address, login ID and password (lengths and bytes). A refusal exits 2
with the form's text on standard error; no device is touched.

Output: on a terminal one live line per running device and a summary
table; otherwise one line per event.

Ctrl-C once: no further device starts, running updates finish. Ctrl-C
again: every running update stops at once; the summary lists the devices
that may be left with FTP on or user9 "UPDATE" (the next update accepts
them).

Exit status: 0 when every device reported "Update completed." and answered
after its last restart (with --check: every device was accepted); 1
otherwise; 2 refused input; 130 interrupted.
)";
}

}  // namespace hj5::cli
