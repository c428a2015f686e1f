# bash completion for moravine
_moravine() {
  local cur prev words cword
  _init_completion || return

  local commands="compress decompress cat test list info search remove-compressed remove-original"
  local global="-q --quiet -j --jobs --log --color -h --help --version"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -j | --jobs | --log | --color) ((i++)) ;;
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  case $prev in
    -j | --jobs | -e | --errors | --distance) return ;;
    --log | --files-from) _filedir; return ;;
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
    compress) options="--spaceless --words --distance -c --stdout -f --force $list" ;;
    decompress) options="-c --stdout -f --force $list" ;;
    test) options="-v --verbose $list" ;;
    list) options="--format $list" ;;
    info) options="-v --verbose $list" ;;
    search) options="-e --errors --format $list" ;;
    *) options="$list" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
  elif [[ $command == compress || $command == remove-original ]]; then
    _filedir
  else
    _filedir hwz
  fi
}
complete -F _moravine moravine
