# bash completion for qreg: commands, root keys and each command's options.
_qreg() {
  local cur prev command
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  command=${COMP_WORDS[1],,}

  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "query add delete copy export import watch --store --help /?" -- "$cur"))
    return
  fi
  case $prev in
    --store | import)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    /t | -t)
      if [ "$command" != watch ]; then
        COMPREPLY=($(compgen -W "REG_SZ REG_EXPAND_SZ REG_MULTI_SZ REG_DWORD REG_QWORD REG_BINARY REG_NONE" -- "$cur"))
      fi
      return
      ;;
  esac
  local options
  case $command in
    query) options="/v /ve /s /t" ;;
    add) options="/v /ve /t /s /d /f" ;;
    delete) options="/v /ve /va /f" ;;
    copy) options="/s /f" ;;
    export) options="/y" ;;
    watch) options="/s /t" ;;
  esac
  case $cur in
    /* | -*) COMPREPLY=($(compgen -W "$options" -- "$cur")) ;;
    *) COMPREPLY=($(compgen -W "HKLM HKCU HKCR HKU HKCC" -- "$cur")) ;;
  esac
  if [ "$command" = export ] && [ "$COMP_CWORD" -eq 3 ]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -F _qreg qreg
