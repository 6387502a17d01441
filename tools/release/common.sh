# shellcheck shell=bash
# Shared by the release scripts: the shipped binaries and how a Windows
# build of them is made.

# Shipped binaries of a Windows build target (win64 has the module too).
shipped_binaries() {
  case $1 in
    win64) echo Tovrin64.dll velk-access-migration.exe velk-reqdat.exe ;;
    win32) echo velk-access-migration.exe velk-reqdat.exe ;;
  esac
}
shipped_targets() {
  case $1 in
    win64) echo Tovrin velk-access-migration velk-reqdat ;;
    win32) echo velk-access-migration velk-reqdat ;;
  esac
}

mingw_prefix() {
  case $1 in
    win64) echo x86_64-w64-mingw32 ;;
    win32) echo i686-w64-mingw32 ;;
  esac
}

# Every tool that may stamp a time takes it from the commit.
release_epoch() {
  git -C "$1" log -1 --format=%ct 2>/dev/null || echo 0
}

# build_shipped SOURCE TARGET FOLDER: a clean Release build of the shipped
# binaries of TARGET (win64 or win32) in FOLDER.
build_shipped() {
  local source=$1 target=$2 folder=$3 launcher=() environment=(env)
  if [ "${VELK_CCACHE:-1}" = 1 ] && command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  else
    # No launcher from the caller's environment either.
    environment=(env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DISABLE=1)
  fi
  local toolchain targets
  toolchain=$source/cmake/mingw-w64-$(mingw_prefix "$target" | cut -d- -f1).cmake
  read -r -a targets <<<"$(shipped_targets "$target")"
  local epoch=${SOURCE_DATE_EPOCH:-$(release_epoch "$source")}
  rm -rf "$folder"
  mkdir -p "$(dirname "$folder")"
  if ! "${environment[@]}" SOURCE_DATE_EPOCH="$epoch" \
    cmake -S "$source" -B "$folder" -G Ninja --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release \
    "${launcher[@]}" >"$folder.configure.log" 2>&1 ||
    ! "${environment[@]}" SOURCE_DATE_EPOCH="$epoch" \
      cmake --build "$folder" -j"${VELK_JOBS:-2}" --target "${targets[@]}" >"$folder.build.log" 2>&1; then
    echo "build of $target in $folder failed; see $folder.configure.log and $folder.build.log"
    return 1
  fi
}

# export_commit REPO COMMIT FOLDER: the commit's files, without the history.
export_commit() {
  rm -rf "$3"
  mkdir -p "$3"
  git -C "$1" archive "$2" | tar -x -C "$3"
}
