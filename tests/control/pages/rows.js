// What the list pages share: finding a row of the control's list by its name.
function rowOf(name) {
    for (var i = 0; i < host.listRowCount(); i++)
        if (host.listCell(i, 0) == name) return i;
    return -1;
}
