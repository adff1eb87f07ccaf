#!/bin/sh
# help2man runs this as "help-for-man.sh PROGRAM --help" (and --version): it
# runs PROGRAM with that option and passes the output on, with the headings
# help2man would misplace rewritten:
# - help2man makes sections of "Options:", "Examples:", "Environment:" and
#   "Files:", and a subsection of any other heading. Options listed in groups
#   under headings of their own ("Sources:", "Output:") would stay in
#   DESCRIPTION, so "Options:" is put before the first group when the help has
#   none. A group named like one of those sections would take its options and
#   every later group out of OPTIONS: "help-for-man.sh --check PROGRAM", run
#   before help2man (which reads only the output), fails the build on one.
# - "Exit status:" becomes "*Exit status*", help2man's mark for a section of
#   that name; text after the heading on its line starts the section.
if [ "$1" = --check ]; then
    "$0" "$2" --help >/dev/null
    exit
fi
program=$1
shift
"$program" "$@" | awk '
    # A heading waits for the next line, which shows whether options follow.
    pending != "" {
        if (/^[[:space:]]+-/) {
            if (!options) { print "Options:"; print ""; options = 1 }
            if (pending ~ /^(Options|Examples|Environment|Files):/) {
                print "help-for-man.sh: the option group \"" pending "\" would be a man page section" > "/dev/stderr"
                exit 1
            }
        }
        print pending
        pending = ""
    }
    /^Options:[[:space:]]*$/ { options = 1; print; next }
    /^Exit status:/ {
        text = $0
        sub(/^Exit status:[[:space:]]*/, "", text)
        print "*Exit status*"
        if (text != "") { print ""; print text }
        next
    }
    /^[^[:space:]][^:]*:[[:space:]]*$/ { pending = $0; next }
    { print }
    END { if (pending != "") print pending }
'
