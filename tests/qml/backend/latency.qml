import QtQml

// Stand-in for the latency tester: `delays` maps a node tag to its measured milliseconds (-1 for
// a failed test); clusters come from the subscription stand-in's nodes.
Recorder {
    property bool testing: false
    property string testingSubscription: ""
    property int revision: 0
    property var delays: ({})
    property bool testResult: true

    signal resultsChanged()
    signal finished(string subscriptionUrl)

    onRevisionChanged: resultsChanged()

    function test(url) { record("test", arguments); return testResult }
    function testIfNeeded(url) { record("testIfNeeded", arguments); return testResult }
    function cancel() { record("cancel", arguments); testing = false }
    function delay(url, tag) { return tag in delays ? delays[tag] : -2 }
    function tagsOf(url, cluster) {
        for (const item of subscribeHandler.items) {
            if (item.url !== url)
                continue
            const nodes = (item.nodes || []).filter(node => cluster === undefined || node.name === cluster)
            return nodes.reduce((tags, node) => tags.concat(node.tags), [])
        }
        return []
    }
    function best(tags) {
        const measured = tags.map(tag => delay("", tag))
        const good = measured.filter(value => value >= 0)
        if (good.length > 0)
            return Math.min.apply(null, good)
        return measured.indexOf(-1) >= 0 ? -1 : -2
    }
    function clusterDelay(url, cluster) { return best(tagsOf(url, cluster)) }
    function bestDelay(url) { return best(tagsOf(url)) }
    function clusterNodes(url, cluster) {
        return tagsOf(url, cluster).map(tag => ({ "tag": tag, "delay": delay(url, tag) }))
    }
}
