# The chart view: series, axes, sampling of long series, axis buttons.
kelvo_add_qtest(chart_view_test SOURCES ChartView_test.cpp LIBS kelvo_console_ui)
