       COPY D.
       COPY E.
