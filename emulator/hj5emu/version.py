"""The emulator's version: the build's one version number, VERSION.

In the source tree VERSION is at the top of the tree; the hj5-emulator
package installs a copy beside these modules.
"""

import os

_HERE = os.path.dirname(os.path.abspath(__file__))
_PLACES = (
    os.path.join(_HERE, "VERSION"),                        # installed
    os.path.join(_HERE, os.pardir, os.pardir, "VERSION"),  # source tree
)


def version():
    """The version, or "unknown" when no VERSION file is found."""
    for path in _PLACES:
        try:
            with open(path, encoding="ascii") as source:
                text = source.readline().strip()
        except (OSError, UnicodeDecodeError):
            continue
        if text:
            return text
    return "unknown"
