# Turns the command line's --help-all into sections help2man understands: one section per
# subcommand, headed by its description, with its arguments as one list.
/^Subcommands:$/ { inSubcommands = 1; next }
!inSubcommands { print; next }
/^[a-z][a-z0-9-]*$/ { name = $0; next }
/^  (Positionals|Options):$/ { next }
/^  [^ ]/ { sub(/^  /, ""); print name " - " $0 ":"; next }
{ print }
