# cmake -DLUMIREX=<command> -DVERSION=<x.y.z> -DOUTPUT=<lumirex.1> -P ManPage.cmake
#
# Writes the lumirex(1) manual page from the command's own help: the overview
# from `lumirex --help`, then one section a subcommand from `lumirex SUB
# --help`. The help texts are laid out in columns, so they go in as they are
# (no filling), with only what roff would read as markup escaped.

function(help_of out)
  execute_process(COMMAND ${LUMIREX} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lumirex ${ARGN} --help exited with ${status}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as roff lines: backslashes and hyphens escaped, and a line that
# starts with a dot or a quote kept from being read as a request.
function(roff_verbatim out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

help_of(overview)
string(REGEX MATCH "^lumirex: ([^\n]*)" _ "${overview}")
string(REGEX REPLACE "\\.$" "" summary "${CMAKE_MATCH_1}")
string(REPLACE "-" "\\-" summary "${summary}")

# The subcommand names in a help text: the first word of each line of its
# Subcommands: block (up to the blank line that ends it) that is not a
# continuation.
function(subcommands_of out text)
  set(names "")
  if(text MATCHES "\nSubcommands:\n([^\n]+(\n[^\n]+)*)")
    string(REGEX MATCHALL "\n  [a-z][a-z-]*" names "\n${CMAKE_MATCH_1}")
    list(TRANSFORM names REPLACE "^\n  " "")
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

subcommands_of(names "${overview}")

roff_verbatim(body "${overview}")
set(page ".TH LUMIREX 1 \"\" \"lumirex ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nlumirex \\- ${summary}\n")
string(APPEND page ".SH SYNOPSIS\n.B lumirex\n.I SUBCOMMAND\n.RI [ OPTIONS ]\n")
string(APPEND page ".SH DESCRIPTION\n${body}")
string(APPEND page ".SH SUBCOMMANDS\n")
# A group's own subcommands (outbox list, send, drop) follow it, each with its
# own help and exit statuses.
foreach(name IN LISTS names)
  help_of(text ${name})
  roff_verbatim(body "${text}")
  string(APPEND page ".SS ${name}\n${body}")
  subcommands_of(inner "${text}")
  foreach(sub IN LISTS inner)
    help_of(text ${name} ${sub})
    roff_verbatim(body "${text}")
    string(APPEND page ".SS \"${name} ${sub}\"\n${body}")
  endforeach()
endforeach()
string(APPEND page ".SH SEE ALSO\n.BR liblumirex (3)\n")
string(APPEND page "The integration guide, /usr/share/doc/lumirex/integration\\-guide.md.\n")

file(WRITE ${OUTPUT} "${page}")
