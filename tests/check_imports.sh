#!/bin/sh
# Fails when a Windows program imports a DLL that is not part of Windows
# itself (the C++ runtime, winpthread and libgcc must be linked in), and
# when korvat-cli.exe, which has no window, imports USER32 at all.
# Usage: check_imports.sh OBJDUMP PROGRAM...
objdump=$1
shift
status=0
for program in "$@"; do
    dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
    if [ -z "$dlls" ]; then
        echo "$program: no imports found" >&2
        status=1
    fi
    for dll in $dlls; do
        case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
        kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | advapi32.dll | \
            shell32.dll | shlwapi.dll | ole32.dll | oleacc.dll | oleaut32.dll | version.dll | \
            msvcrt.dll | \
            ntdll.dll | api-ms-win-*.dll) ;;
        *)
            echo "$program imports $dll, which Windows does not ship" >&2
            status=1
            ;;
        esac
    done
    if [ "$(basename "$program")" = korvat-cli.exe ] && echo "$dlls" | grep -qi '^user32.dll$'; then
        echo "$program imports USER32, which a program without a window must not load" >&2
        status=1
    fi
    echo "$(basename "$program"): $(echo $dlls)"
done
exit $status
