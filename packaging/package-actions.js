// Immediate script actions of the Narvo packages, run by the installer before it writes the
// registry. Each returns 1 (success): a site list that gives no origin simply adds none.

// The type library's help folder is the install folder without the separator that every
// directory property ends with, as RegisterTypeLib writes it.
function SetHelpFolder() {
    Session.Property("NARVOHELPDIR") = Session.Property("INSTALLFOLDER").replace(/\\+$/, "");
    return 1;
}

// ALLOWEDSITES ("origin;origin;...") becomes the values 1..N of the site policy's AllowedSites
// key, as rows of the SitePolicy component added for this session only; the component removes
// the key again when the product is removed.
function AddAllowedSites() {
    var sites = Session.Property("ALLOWEDSITES").split(";");
    var view = Session.Database.OpenView(
        "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) " +
        "VALUES (?, ?, ?, ?, ?, ?) TEMPORARY");
    var count = 0;
    for (var i = 0; i < sites.length; ++i) {
        var site = sites[i].replace(/^\s+|\s+$/g, "");
        if (site === "") continue;
        ++count;
        var record = Session.Installer.CreateRecord(6);
        record.StringData(1) = "AllowedSite" + count;
        record.IntegerData(2) = 2; // HKEY_LOCAL_MACHINE
        record.StringData(3) = "SOFTWARE\\Policies\\Veltrix\\Narvo\\AllowedSites";
        record.StringData(4) = String(count);
        // The Value column is formatted text: brackets (an IPv6 host) are written escaped.
        record.StringData(5) = site.replace(/[\[\]]/g, function (c) { return "[\\" + c + "]"; });
        record.StringData(6) = "SitePolicy";
        view.Execute(record);
    }
    view.Close();
    return 1;
}
