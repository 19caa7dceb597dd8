# cmake -DPROGRAM=<binary> -DTEMPLATE=<page.1.in> -DOUTPUT=<page.1> -DVERSION=<v> -DDATE=<d> -P make_manpage.cmake
# Fills a manual page from the program's own help: @HELP@ with its --help, @COMMANDS@ with
# the --help of every command and sub-command, so that the page says what the program says.

# The help text as troff lines for a no-fill block: backslashes and minus signs escaped, and
# lines that would start a request protected.
function(troff_verbatim text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(help_of out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE result
                  ENCODING UTF-8)
  if(result)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The names listed under "Subcommands:" of a help text.
function(commands_in text out)
  set(names)
  string(REGEX MATCH "Subcommands:\n(  [^\n]*\n)+" block "${text}")
  string(REGEX MATCHALL "\n  ([a-z][a-z-]*)" lines "${block}")
  foreach(line ${lines})
    string(STRIP "${line}" name)
    list(APPEND names ${name})
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

help_of(main)
troff_verbatim("${main}" HELP)

set(COMMANDS "")
commands_in("${main}" commands)
foreach(command ${commands})
  help_of(help ${command})
  troff_verbatim("${help}" text)
  string(APPEND COMMANDS ".SS ${command}\n.nf\n${text}\n.fi\n")
  commands_in("${help}" subcommands)
  foreach(sub ${subcommands})
    help_of(subhelp ${command} ${sub})
    troff_verbatim("${subhelp}" text)
    string(APPEND COMMANDS ".SS \"${command} ${sub}\"\n.nf\n${text}\n.fi\n")
  endforeach()
endforeach()
string(REGEX REPLACE "\n$" "" COMMANDS "${COMMANDS}")

configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
