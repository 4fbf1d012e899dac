import QtQuick

// A page of the main view's stack, made the first time it is shown rather than at start-up, then
// kept, so what it holds (a chosen plan, a half-typed reply) survives leaving it.
Loader {
    property int index: -1
    property int shownIndex: -1
    property bool visited: false

    active: visited
    // Latched rather than bound: once made, the page stays.
    onShownIndexChanged: if (shownIndex === index) visited = true
    Component.onCompleted: if (shownIndex === index) visited = true
}
