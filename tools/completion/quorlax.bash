# bash completion for quorlax. The program completes its own command line
# (quorlax --complete), from the table of commands and options that parses it.
_quorlax() {
  local IFS=$'\n'
  local -a words
  words=($("$1" --complete "$COMP_CWORD" "${COMP_WORDS[@]}" 2>/dev/null)) || return
  if [[ ${#words[@]} -gt 0 && ${words[-1]} == :files ]]; then
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "${COMP_WORDS[COMP_CWORD]}"))
  else
    COMPREPLY=("${words[@]}")
  fi
}
complete -F _quorlax quorlax
