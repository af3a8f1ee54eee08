# One INTERFACE target carries the language level, warnings and sanitizers for
# every target of ours.
add_library(tavro_options INTERFACE)
target_compile_features(tavro_options INTERFACE cxx_std_20)
target_compile_options(tavro_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Woverloaded-virtual -Wconversion -Wsign-conversion)
if(TAVRO_WARNINGS_AS_ERRORS)
    target_compile_options(tavro_options INTERFACE -Werror)
endif()
if(TAVRO_SANITIZE)
    target_compile_options(tavro_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tavro_options INTERFACE -fsanitize=address,undefined)
endif()

# Qt's headers are not clean under our stricter warnings; adapters use this
# instead, which keeps the warnings that Qt code can honour.
add_library(tavro_qt_options INTERFACE)
target_compile_features(tavro_qt_options INTERFACE cxx_std_20)
target_compile_options(tavro_qt_options INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(tavro_qt_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)
if(TAVRO_WARNINGS_AS_ERRORS)
    target_compile_options(tavro_qt_options INTERFACE -Werror)
endif()
if(TAVRO_SANITIZE)
    target_compile_options(tavro_qt_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tavro_qt_options INTERFACE -fsanitize=address,undefined)
endif()
