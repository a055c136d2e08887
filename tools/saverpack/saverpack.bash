# bash completion for saverpack
# The options are written out here rather than read from --help at each Tab:
# the tests compare them with the tool's own help, so a new option that is
# missing here fails there.

_saverpack() {
  local cur prev words cword
  _init_completion || return

  local commands="create list extract verify sign"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
    create | list | extract | verify | sign)
      command=${words[i]}
      break
      ;;
    esac
  done

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "-h --help --version" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    fi
    return
  fi

  local signing="--cert --key --pass-file --timestamp"
  local options
  case $command in
  create)
    options="-o --output --title --saver --data --first-number --level --store --stub --icon
      --product-version --company --description --copyright $signing -q --quiet -h --help"
    ;;
  list) options="--json -h --help" ;;
  extract) options="-C --directory --force -h --help" ;;
  verify) options="--ca -h --help" ;;
  sign) options="$signing -h --help" ;;
  esac

  case $prev in
  --level)
    # The levels are the tool's to name: its help writes them as --level A|B.
    local levels
    levels=$("${words[0]}" create --help 2>/dev/null | sed -n 's/^ *--level \([^ ]*\).*/\1/p')
    COMPREPLY=($(compgen -W "${levels//|/ }" -- "$cur"))
    return
    ;;
  -C | --directory)
    _filedir -d
    return
    ;;
  --icon)
    _filedir '@(ico|png)'
    return
    ;;
  --saver)
    _filedir scr
    return
    ;;
  -o | --output | --stub)
    _filedir exe
    return
    ;;
  --title | --first-number | --product-version | --company | --description | --copyright | \
    --timestamp)
    return
    ;;
  --data | --cert | --key | --pass-file | --ca)
    _filedir
    return
    ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    _filedir
  fi
} &&
  complete -F _saverpack saverpack saverpack.exe
