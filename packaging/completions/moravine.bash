# bash completion for moravine
_moravine() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else  # without the bash-completion package
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
  fi
  _moravine_files() {
    if declare -F _filedir >/dev/null; then
      _filedir "$@"
    else
      local IFS=$'\n'
      if [[ -n ${1-} ]]; then
        COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!*.$1" -- "$cur"))
      else
        COMPREPLY=($(compgen -f -- "$cur"))
      fi
    fi
  }

  local commands="compress decompress cat test list info search remove-compressed remove-original help"
  local global="-q --quiet -v --verbose -j --jobs --log --color -h --help --version"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -j | --jobs | --log | --color) ((i++)) ;;
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  case $prev in
    -j | --jobs | -e | --errors | --distance | -A | -B | -C | -m | --after-context | --before-context | \
      --context | --max-count | --context-words) return ;;
    --log | --files-from) _moravine_files; return ;;
    --color) COMPREPLY=($(compgen -W "auto always never" -- "$cur")); return ;;
    --format)
      if [[ $command == list ]]; then
        COMPREPLY=($(compgen -W "table json" -- "$cur"))
      else
        COMPREPLY=($(compgen -W "text tsv json" -- "$cur"))
      fi
      return ;;
  esac

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands $global" -- "$cur"))
    return
  fi
  local list="--files-from --null"
  local options
  case $command in
    compress) options="--spaceless --words --unicode --distance -T --threads -c --stdout -f --force -u --update -k --keep
      -r --recursive $list" ;;
    decompress) options="-c --stdout -f --force -u --update -k --keep -r --recursive $list" ;;
    help) COMPREPLY=($(compgen -W "${commands% help}" -- "$cur")); return ;;
    test) options="-v --verbose $list" ;;
    list) options="--format $list" ;;
    info) options="-v --verbose $list" ;;
    search) options="-e --errors --format -i --ignore-case -F --fixed-strings -n --line-number --lines -A --after-context
      -B --before-context -C --context -b --byte-offset -l --files-with-matches -c --count -m --max-count
      --context-words $list" ;;
    *) options="$list" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
  elif [[ $command == compress || $command == remove-original ]]; then
    _moravine_files
  else
    _moravine_files hwz
  fi
}
complete -F _moravine moravine
