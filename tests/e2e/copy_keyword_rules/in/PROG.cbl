      COPY KW.
       COPY.
       copy kw.
       XCOPY KW.
       Copy KW.
       COPY	KW	.
