"""The window template writer, dumper and source generator (tools/rtwin.py).

layout   what the stored block looks like: type ids, cursor ids, the unit
         record and every component's property record, each one field list
writer   window descriptions (JSON) -> template block
dumper   template block -> readable listing
codegen  the block, the header and the stub table as build sources
"""
