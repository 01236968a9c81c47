# bash completion for qreg: operations, each operation's options, root keys
# and the keys below them (listed by qreg itself), value types, and files.
# Key names hold backslashes: type them inside quotes ('HKCU\Soft<Tab>) or
# doubled (HKCU\\Soft<Tab>); the completions come back the same way.

# Fills COMPREPLY with the keys whose names start with $1 (as typed).
_qreg_keys() {
  local typed=$1 quote="" name
  shift
  case $typed in
    \'* | \"*) quote=${typed:0:1} name=${typed:1} ;;
    *) name=${typed//\\\\/\\} ;;
  esac
  local candidates=() line
  if [[ $name != *\\* ]]; then
    candidates=(HKLM HKCU HKCR HKU HKCC HKEY_LOCAL_MACHINE HKEY_CURRENT_USER HKEY_CLASSES_ROOT
      HKEY_USERS HKEY_CURRENT_CONFIG)
  else
    # The subkeys are the lines {"key":"..."} of query --json (backslashes
    # doubled there); each comes back as the parent typed, then its name.
    local parent=${name%\\*}
    while IFS= read -r line; do
      line=${line//\\\\/\\}
      candidates+=("$parent\\${line##*\\}")
    done < <(qreg "$@" query "$parent" --json 2>/dev/null |
      sed -n 's/^{"key":"\(.*\)"}\r\{0,1\}$/\1/p')
  fi
  COMPREPLY=()
  local candidate upper=${name^^}
  for candidate in "${candidates[@]}"; do
    [[ ${candidate^^} == "$upper"* ]] || continue
    candidate+='\'
    if [[ -n $quote ]]; then
      COMPREPLY+=("$quote$candidate")
    else
      COMPREPLY+=("${candidate//\\/\\\\}")
    fi
  done
  compopt -o nospace 2>/dev/null
}

_qreg() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local store=() operation="" i positional=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --store) store=(--store "${COMP_WORDS[i + 1]}") && ((i++)) ;;
      --store=*) store=("${COMP_WORDS[i]}") ;;
      -* | /*) ;;
      *) [[ -z $operation ]] && operation=${COMP_WORDS[i],,} || ((positional++)) ;;
    esac
  done
  if [[ $prev == --store ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
    return
  fi
  if [[ -z $operation ]]; then
    COMPREPLY=($(compgen -W "query add delete copy export import compare watch --store --help --version" -- "$cur"))
    return
  fi
  local options valued
  case $operation in
    query) options="/v /ve /s /f /k /d /c /e /t /z /se --json" valued="/v /f /t /se" ;;
    add) options="/v /ve /t /s /d /f" valued="/v /t /s /d" ;;
    delete) options="/v /ve /va /f" valued="/v" ;;
    copy) options="/s /f" ;;
    export) options="/y /a" ;;
    import) options="" ;;
    compare) options="/v /ve /oa /od /os /on /s" valued="/v" ;;
    watch) options="/s /t /once --json" valued="/t" ;;
    *) return ;;
  esac
  local option=${prev,,}
  option=${option/#-//}
  if [[ " $valued " == *" $option "* ]]; then
    if [[ $option == /t && $operation != watch ]]; then
      COMPREPLY=($(compgen -W "REG_SZ REG_MULTI_SZ REG_EXPAND_SZ REG_DWORD REG_DWORD_BIG_ENDIAN REG_QWORD REG_BINARY REG_NONE" -- "${cur^^}"))
    fi
    return
  fi
  if [[ $cur == -* || ($cur == /* && $cur != */*/* && $cur != *.*) ]]; then
    COMPREPLY=($(compgen -W "$options /reg:32 /reg:64 /?" -- "$cur"))
    return
  fi
  # The file of import, and of export after its key.
  if [[ $operation == import || ($operation == export && $positional -ge 1) ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
    return
  fi
  _qreg_keys "$cur" "${store[@]}"
}
complete -F _qreg qreg
