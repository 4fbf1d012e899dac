import QtQml

// Stand-in for the subscription handler. `items` holds maps as the real handler returns
// them plus a `nodes` list ({name, tags}) from which the cluster queries answer.
Recorder {
    property bool isLoading: false
    property bool offline: false
    property var items: []
    // Set before subscriptionsChanged goes out, as the real handler's list is in place by then.
    property int subscriptionCount: 0
    property int rememberedSelectionRevision: 0
    property var remembered: ({})
    property bool fetchResult: true
    property bool claimResult: true

    signal subscriptionsChanged
    signal nodesFetched
    signal fetchFailed(string error)
    signal freeSubscriptionClaimed
    signal freeSubscriptionClaimUnavailable(real remainingSeconds)
    signal freeSubscriptionClaimFailed(string error)
    signal rememberedSelectionChanged

    onItemsChanged: {
        subscriptionCount = items.length
        subscriptionsChanged()
    }

    function fetchNodes() { record("fetchNodes", arguments); return fetchResult }
    function claimFreeSubscription() { record("claimFreeSubscription", arguments); return claimResult }
    function getSubscription(index) { return index >= 0 && index < items.length ? items[index] : ({}) }
    function clusters(index) { return getSubscription(index).nodes || [] }
    function getNodes(index) {
        return clusters(index).map(node => ({ "name": node.name, "count": node.tags.length, "hasVip": false }))
    }
    function clusterForTag(index, tag) {
        const match = clusters(index).find(node => (node.tags || []).indexOf(tag) >= 0)
        return match ? match.name : ""
    }
    function randomTagForCluster(index, cluster) {
        const match = clusters(index).find(node => node.name === cluster)
        return match && match.tags.length > 0 ? match.tags[0] : ""
    }
    function randomTagForSubscription(index) {
        const nodes = clusters(index)
        return nodes.length > 0 && nodes[0].tags.length > 0 ? nodes[0].tags[0] : ""
    }
    function rememberedAutoForSubscription(url) { return remembered[url] === undefined || remembered[url] === "auto" }
    function rememberedClusterForSubscription(url) {
        const value = remembered[url]
        return value === undefined || value === "auto" ? "" : value
    }
    // Like the real table: known countries and any two-letter code, shipped or not.
    function clusterFlagIconPath(cluster) {
        const codes = { "Japan": "jp", "United States": "us", "Germany": "de" }
        if (codes[cluster])
            return "qrc:/flags/" + codes[cluster] + ".png"
        return /^[A-Za-z]{2}$/.test(cluster) ? "qrc:/flags/" + cluster.toLowerCase() + ".png" : ""
    }
    function clusterDisplayName(cluster, language) { return cluster }
}
