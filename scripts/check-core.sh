#!/usr/bin/env bash
# The core library builds without a window system and holds no mutable global state: no Qt,
# GL or EGL header, and no variable at namespace scope that is not a constant. Declarations at
# namespace scope start in the first column (clang-format does not indent namespaces), so a
# non-constant variable there shows as a first-column line ending in ';' with no parameter list.
set -u
cd "$(dirname "$0")/../src"
core=(geometry meshio formats generator octree boolean closed gcode scene)
status=0
if grep -rnE '#include <(Q|GL/|EGL/|GLES)' "${core[@]}"; then
    echo "the core includes a GUI or GL header" >&2
    status=1
fi
declaration='^(inline |static |extern |thread_local )*[A-Za-z_][A-Za-z0-9_:<>,]*( [A-Za-z_][A-Za-z0-9_:<>,]*)*[ *&]+[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?( *=[^=].*| *\{.*\})?;$'
constant=':[0-9]+:((inline|static|extern) )*(constexpr|constinit const|const|using|typedef|return|namespace|friend|template|class|struct|enum|union)\b'
if grep -rnE --include='*.h' --include='*.cpp' "$declaration" "${core[@]}" | grep -vE "$constant"; then
    echo "a mutable variable at namespace scope in the core" >&2
    status=1
fi
exit $status
